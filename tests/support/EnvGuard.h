// Environment variables set for one test and put back as they were when the guard goes, so
// that a test of the home, data or locale folders leaves the next test the real environment.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace qz::test {

class EnvGuard {
public:
    EnvGuard() = default;
    // Sets `name` to `value` at once.
    EnvGuard(const char* name, const std::string& value) { Set(name, value.c_str()); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    // Sets `name` to `value`, or removes it when `value` is null.
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::string(old) : std::string(), old != nullptr});
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                ::setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                ::unsetenv(it->name.c_str());
        }
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

} // namespace qz::test
