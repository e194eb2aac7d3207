// Error values shared by every layer below the user interface.
//
// A failure is a value: a non-zero number and a description. Nothing throws
// across a layer boundary; callers read the number (zero means success), read
// the description, and go on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tavrin {

// Error numbers. They follow the HRESULT values that a MAPI store reports for
// the same conditions, so that a number shown to a user means what it would
// mean in Outlook's own messages. Read as signed 32-bit numbers.
namespace err {
inline constexpr int32_t kCallFailed = static_cast<int32_t>(0x80004005u);      // E_FAIL / MAPI_E_CALL_FAILED
inline constexpr int32_t kNoSupport = static_cast<int32_t>(0x80040102u);       // MAPI_E_NO_SUPPORT
inline constexpr int32_t kNotFound = static_cast<int32_t>(0x8004010Fu);        // MAPI_E_NOT_FOUND
inline constexpr int32_t kCorrupt = static_cast<int32_t>(0x8004011Bu);         // MAPI_E_CORRUPT_DATA
inline constexpr int32_t kDiskFull = static_cast<int32_t>(0x8004010Du);        // MAPI_E_NOT_ENOUGH_DISK
inline constexpr int32_t kCollision = static_cast<int32_t>(0x80040604u);       // MAPI_E_COLLISION
inline constexpr int32_t kInvalidParameter = static_cast<int32_t>(0x80070057u);// E_INVALIDARG
inline constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005u);    // E_ACCESSDENIED
inline constexpr int32_t kNoMemory = static_cast<int32_t>(0x8007000Eu);        // E_OUTOFMEMORY
inline constexpr int32_t kFileExists = static_cast<int32_t>(0x80070050u);      // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
inline constexpr int32_t kFileNotFound = static_cast<int32_t>(0x80070002u);    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
inline constexpr int32_t kIo = static_cast<int32_t>(0x8007001Fu);              // HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)
inline constexpr int32_t kTooBig = static_cast<int32_t>(0x80040305u);          // MAPI_E_TOO_BIG
inline constexpr int32_t kCancelled = static_cast<int32_t>(0x80040501u);       // MAPI_E_USER_CANCEL
inline constexpr int32_t kFileInUse = static_cast<int32_t>(0x80070020u);       // HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)
}  // namespace err

struct Error {
    int32_t number = 0;
    std::string description;
    // The one thing the failure is about, where it names one, so that
    // callers need not take the description apart: the folder that a
    // lookup by path did not find.
    std::string name;

    Error() = default;
    Error(int32_t n, std::string d, std::string about = {})
        : number(n), description(std::move(d)), name(std::move(about)) {}

    bool failed() const { return number != 0; }
    void clear() {
        number = 0;
        description.clear();
        name.clear();
    }

    // Adds context in front of the description ("recipient 3: " + "truncated").
    Error& prefixed(const std::string& context) {
        description = context + ": " + description;
        return *this;
    }
};

// Either a value or an Error.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}                 // NOLINT(google-explicit-constructor)
    Result(Error error) : v_(std::move(error)) {}             // NOLINT(google-explicit-constructor)

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    T& operator*() & { return std::get<0>(v_); }
    const T& operator*() const& { return std::get<0>(v_); }

    const Error& error() const& { return std::get<1>(v_); }
    Error&& error() && { return std::get<1>(std::move(v_)); }

private:
    std::variant<T, Error> v_;
};

// Success or an Error, for operations without a value.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : e_(std::move(error)) {}             // NOLINT(google-explicit-constructor)

    bool ok() const { return e_.number == 0; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return e_; }
    Error&& take() && { return std::move(e_); }

private:
    Error e_;
};

inline Error makeError(int32_t number, std::string description) {
    return Error(number, std::move(description));
}

}  // namespace tavrin
