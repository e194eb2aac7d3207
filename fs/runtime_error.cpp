#include "fs/runtime_error.h"

namespace tavrin::fs::rt {

std::string runtimeErrorText(int32_t number) {
    switch (number) {
        case kBadFileNumber: return "Bad file name or number";
        case kFileAlreadyOpen: return "File already open";
        case kInputPastEndOfFile: return "Input past end of file";
        case kKeyAlreadyAssociated: return "This key is already associated with an element of this collection";
        default: return "Run-time error " + std::to_string(number);
    }
}

Error runtimeError(int32_t number) { return Error(number, runtimeErrorText(number)); }

bool isRuntimeError(const Error& e) {
    switch (e.number) {
        case kBadFileNumber:
        case kFileAlreadyOpen:
        case kInputPastEndOfFile:
        case kKeyAlreadyAssociated: return true;
        default: return false;
    }
}

}  // namespace tavrin::fs::rt
