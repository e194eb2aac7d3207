// A small JSON reader for tests that compare records with expected files.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/text.h"

namespace tavrin::testing {

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool b = false;
    double n = 0;
    std::string s;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;  // in file order

    const JsonValue* get(std::string_view key) const {
        for (const auto& [k, v] : members)
            if (k == key) return &v;
        return nullptr;
    }
    bool operator==(const JsonValue& o) const {
        if (kind != o.kind) return false;
        switch (kind) {
            case Null: return true;
            case Bool: return b == o.b;
            case Number: return n == o.n;
            case String: return s == o.s;
            case Array: return items == o.items;
            case Object: {
                if (members.size() != o.members.size()) return false;
                for (const auto& [k, v] : members) {
                    const JsonValue* w = o.get(k);
                    if (!w || !(v == *w)) return false;
                }
                return true;
            }
        }
        return false;
    }
    std::string dump() const {
        switch (kind) {
            case Null: return "null";
            case Bool: return b ? "true" : "false";
            case Number: {
                std::string t = std::to_string(n);
                if (t.find('.') != std::string::npos) {
                    while (t.back() == '0') t.pop_back();
                    if (t.back() == '.') t.pop_back();
                }
                return t;
            }
            case String: return "\"" + s + "\"";
            case Array: {
                std::string t = "[";
                for (size_t i = 0; i < items.size(); ++i) t += (i ? "," : "") + items[i].dump();
                return t + "]";
            }
            case Object: {
                std::string t = "{";
                for (size_t i = 0; i < members.size(); ++i) t += (i ? ",\"" : "\"") + members[i].first + "\":" + members[i].second.dump();
                return t + "}";
            }
        }
        return "";
    }
};

class JsonParser {
public:
    explicit JsonParser(std::string_view t) : t_(t) {}
    bool parse(JsonValue& out) {
        bool ok = value(out);
        ws();
        return ok && i_ == t_.size();
    }

private:
    void ws() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) ++i_;
    }
    bool lit(std::string_view w) {
        if (t_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool str(std::string& out) {
        if (i_ >= t_.size() || t_[i_] != '"') return false;
        ++i_;
        std::u16string pending;  // \u escapes, joined into pairs
        auto flush = [&] { out += text::toUtf8(pending); pending.clear(); };
        while (i_ < t_.size() && t_[i_] != '"') {
            char c = t_[i_++];
            if (c != '\\') { flush(); out += c; continue; }
            if (i_ >= t_.size()) return false;
            c = t_[i_++];
            switch (c) {
                case 'n': flush(); out += '\n'; break;
                case 't': flush(); out += '\t'; break;
                case 'r': flush(); out += '\r'; break;
                case 'b': flush(); out += '\b'; break;
                case 'f': flush(); out += '\f'; break;
                case 'u': {
                    if (i_ + 4 > t_.size()) return false;
                    pending.push_back(static_cast<char16_t>(std::strtoul(std::string(t_.substr(i_, 4)).c_str(), nullptr, 16)));
                    i_ += 4;
                    break;
                }
                default: flush(); out += c;
            }
        }
        flush();
        if (i_ >= t_.size()) return false;
        ++i_;
        return true;
    }
    bool value(JsonValue& v) {
        ws();
        if (i_ >= t_.size()) return false;
        const char c = t_[i_];
        if (c == 'n') { v.kind = JsonValue::Null; return lit("null"); }
        if (c == 't') { v.kind = JsonValue::Bool; v.b = true; return lit("true"); }
        if (c == 'f') { v.kind = JsonValue::Bool; v.b = false; return lit("false"); }
        if (c == '"') { v.kind = JsonValue::String; return str(v.s); }
        if (c == '[') {
            v.kind = JsonValue::Array;
            ++i_;
            ws();
            if (i_ < t_.size() && t_[i_] == ']') { ++i_; return true; }
            for (;;) {
                v.items.emplace_back();
                if (!value(v.items.back())) return false;
                ws();
                if (i_ < t_.size() && t_[i_] == ',') { ++i_; continue; }
                if (i_ < t_.size() && t_[i_] == ']') { ++i_; return true; }
                return false;
            }
        }
        if (c == '{') {
            v.kind = JsonValue::Object;
            ++i_;
            ws();
            if (i_ < t_.size() && t_[i_] == '}') { ++i_; return true; }
            for (;;) {
                ws();
                std::string k;
                if (!str(k)) return false;
                ws();
                if (i_ >= t_.size() || t_[i_] != ':') return false;
                ++i_;
                v.members.emplace_back(k, JsonValue{});
                if (!value(v.members.back().second)) return false;
                ws();
                if (i_ < t_.size() && t_[i_] == ',') { ++i_; continue; }
                if (i_ < t_.size() && t_[i_] == '}') { ++i_; return true; }
                return false;
            }
        }
        v.kind = JsonValue::Number;
        const std::string rest(t_.substr(i_, 32));
        char* end = nullptr;
        v.n = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str()) return false;
        i_ += static_cast<size_t>(end - rest.c_str());
        return true;
    }

    std::string_view t_;
    size_t i_ = 0;
};

inline bool parseJson(std::string_view text, JsonValue& out) { return JsonParser(text).parse(out); }

}  // namespace tavrin::testing
