#include "exchange/monRecordJson.h"

#include "exchange/monRecordFields.h"

#include <cmath>
#include <cstdio>

namespace qz {
namespace {

void Number(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    out += buf;
}

class JsonObject {
public:
    void Key(const char* name) {
        out_ += first_ ? "{\"" : ",\"";
        first_ = false;
        out_ += name;
        out_ += "\":";
    }
    void Value(const char* name, double v) {
        Key(name);
        Number(out_, v);
    }
    void Array(const char* name, const double* v, int n) {
        Key(name);
        out_ += '[';
        for (int i = 0; i < n; ++i) {
            if (i) out_ += ',';
            Number(out_, v[i]);
        }
        out_ += ']';
    }
    std::string Finish() { return out_ + (first_ ? "{}" : "}"); }

private:
    std::string out_;
    bool first_ = true;
};

} // namespace

std::string RecordJson(const TmonData3sec& d) {
    JsonObject j;
    ForEachRecordField(d, true, [&j](const char* name, const double* v, int n) {
        // Single values are plain numbers, every group an array (the shortest has three).
        if (n == 1)
            j.Value(name, *v);
        else
            j.Array(name, v, n);
    });
    return j.Finish();
}

} // namespace qz
