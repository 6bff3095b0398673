#include "tools/pabx-sim/Store.h"

#include <system_error>
#include <vector>

#include "common/Texto.h"

namespace fs = std::filesystem;

namespace pabxsim {
namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

bool AcceptableName(std::string_view n) {
    if (n.empty() || n == "." || n == "..") return false;
    for (char c : n) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '\\' || c == ':' || c == '/' || u == 0x7F) return false;
    }
    return true;
}

// The entry of `dir` called `name` (exact spelling first, then any case).
// Empty when none.
fs::path FindEntry(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    fs::path exact = dir / name;
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found && !ec) return exact;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (SameNameIgnoringCase(it->path().filename().string(), name)) return it->path();
    }
    return {};
}

}  // namespace

int RecordingStore::Remove(std::string_view unitPath) {
    // Text up to the first NUL is all the unit reads.
    unitPath = unitPath.substr(0, unitPath.find('\0'));
    std::string path = Latin1ParaUtf8(unitPath);
    if (path.rfind("0:/", 0) != 0) return kRefused;
    std::string rest = path.substr(3);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();  // a folder may be named with its slash

    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        size_t p = rest.find('/', start);
        names.push_back(rest.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) break;
        start = p + 1;
    }
    for (const auto& n : names) {
        if (!AcceptableName(n)) return kRefused;
    }
    if (names.size() < 3 || !SameNameIgnoringCase(names[0], "NORVIKA") ||
        !SameNameIgnoringCase(names[1], "AUDIOREC")) {
        return kRefused;
    }

    std::lock_guard lock(mutex_);
    std::error_code ec;
    fs::path cur = root_;
    for (size_t i = 0; i < names.size(); ++i) {
        fs::path next = FindEntry(cur, names[i]);
        if (next.empty()) return kNotFound;
        auto st = fs::symlink_status(next, ec);
        if (ec) return kNotFound;
        if (st.type() == fs::file_type::symlink) return kRefused;
        bool last = i + 1 == names.size();
        if (!last) {
            if (st.type() != fs::file_type::directory) return kNotFound;
            cur = next;
            continue;
        }
        if (st.type() == fs::file_type::regular) {
            return fs::remove(next, ec) && !ec ? kRemoved : kNotFound;
        }
        if (st.type() == fs::file_type::directory) {
            if (!fs::is_empty(next, ec) || ec) return kNotFound;
            return fs::remove(next, ec) && !ec ? kRemoved : kNotFound;
        }
        return kRefused;
    }
    return kNotFound;
}

}  // namespace pabxsim
