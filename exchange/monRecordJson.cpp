#include "exchange/monRecordJson.h"

#include "exchange/monNumberText.h"
#include "exchange/monRecordFields.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace qz {
namespace {

void Number(std::string& out, double v, int decimals) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    out += NumberText(v, decimals, '.');
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
        Number(out_, v, RecordFieldText(name, 0).Decimals);
    }
    void Array(const char* name, const double* v, int n) {
        Key(name);
        out_ += '[';
        for (int i = 0; i < n; ++i) {
            if (i) out_ += ',';
            Number(out_, v[i], RecordFieldText(name, i).Decimals);
        }
        out_ += ']';
    }
    void String(const char* name, const std::string& text) {
        Key(name);
        out_ += '"' + text + '"'; // only digits and separators: nothing to escape
    }
    std::string Finish() { return out_ + (first_ ? "{}" : "}"); }

private:
    std::string out_;
    bool first_ = true;
};

} // namespace

std::string IsoLocalTime(TDateTime t) {
    const TDateTimeParts p = DecodeDateTime(t);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.MSec);
    return buf;
}

std::string RecordJson(const TmonData3sec& d) {
    JsonObject j;
    ForEachRecordField(d, true, [&j, &d](const char* name, const double* v, int n) {
        // Single values are plain numbers, every group an array (the shortest has three).
        if (n == 1)
            j.Value(name, *v);
        else
            j.Array(name, v, n);
        if (std::strcmp(name, "Time") == 0) j.String("TimeISO", IsoLocalTime(d.Time));
    });
    return j.Finish();
}

} // namespace qz
