#include "trends/monTrendMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

namespace qz {

namespace {

std::string TwoDigits(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

// How many times character c repeats from position i.
size_t RunLength(const std::string& p, size_t i) {
    size_t n = 1;
    while (i + n < p.size() && p[i + n] == p[i])
        ++n;
    return n;
}

bool Finite(double x) {
    return std::isfinite(x);
}

// 1, 2 or 5 times a power of ten, not below x (x > 0).
double NiceCeil(double x) {
    const double p = std::pow(10.0, std::floor(std::log10(x)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= x * (1 - 1e-9)) return m * p;
    return 10 * p;
}

const TTrendSample* LowerBound(const TTrendSample* s, size_t n, TDateTime t) {
    return std::lower_bound(s, s + n, t,
                            [](const TTrendSample& a, TDateTime b) { return a.Time < b; });
}
const TTrendSample* UpperBound(const TTrendSample* s, size_t n, TDateTime t) {
    return std::upper_bound(s, s + n, t,
                            [](TDateTime a, const TTrendSample& b) { return a < b.Time; });
}

} // namespace

// --- time axis ---

std::string FormatDateTimePattern(TDateTime t, const std::string& p,
                                  const TTrendTimeFormat* names) {
    const TDateTimeParts d = DecodeDateTime(t);
    // 30.12.1899 was a Saturday; Monday is 0.
    const long days = long(std::floor(t));
    const int weekday = int(((days + 5) % 7 + 7) % 7);
    const auto name = [](const std::vector<std::string>* list, int i, const std::string& number) {
        return list && i >= 0 && size_t(i) < list->size() ? (*list)[size_t(i)] : number;
    };
    std::string out;
    for (size_t i = 0; i < p.size();) {
        const char c = p[i];
        if (c == '\'') {
            // Quoted text; two quotes stand for one.
            size_t j = i + 1;
            if (j < p.size() && p[j] == '\'') {
                out += '\'';
                i += 2;
                continue;
            }
            while (j < p.size()) {
                if (p[j] == '\'') {
                    if (j + 1 < p.size() && p[j + 1] == '\'') {
                        out += '\'';
                        j += 2;
                        continue;
                    }
                    break;
                }
                out += p[j++];
            }
            i = j + 1;
            continue;
        }
        const size_t n = RunLength(p, i);
        const bool two = n >= 2;
        switch (c) {
        case 'd':
            if (n >= 3)
                out += name(names ? (n == 3 ? &names->ShortDays : &names->LongDays) : nullptr,
                            weekday, TwoDigits(d.Day));
            else
                out += two ? TwoDigits(d.Day) : std::to_string(d.Day);
            break;
        case 'M':
            if (n >= 3)
                out += name(names ? (n == 3 ? &names->ShortMonths : &names->LongMonths) : nullptr,
                            d.Month - 1, TwoDigits(d.Month));
            else
                out += two ? TwoDigits(d.Month) : std::to_string(d.Month);
            break;
        case 'y':
            out += n >= 4 ? std::to_string(d.Year) : TwoDigits(d.Year % 100);
            break;
        case 'H':
            out += two ? TwoDigits(d.Hour) : std::to_string(d.Hour);
            break;
        case 'h': {
            // With AP in the pattern the hours run 1..12, otherwise as H.
            const bool ampm = p.find_first_of("Aa") != std::string::npos;
            int h = d.Hour;
            if (ampm) h = h % 12 == 0 ? 12 : h % 12;
            out += two ? TwoDigits(h) : std::to_string(h);
            break;
        }
        case 'm':
            out += two ? TwoDigits(d.Minute) : std::to_string(d.Minute);
            break;
        case 's':
            out += two ? TwoDigits(d.Second) : std::to_string(d.Second);
            break;
        case 'z': {
            char b[8];
            std::snprintf(b, sizeof b, "%03d", d.MSec);
            out += n >= 3 ? std::string(b) : std::to_string(d.MSec);
            break;
        }
        case 'A':
        case 'a':
            if (i + 1 < p.size() && (p[i + 1] == 'P' || p[i + 1] == 'p')) {
                std::string ap = d.Hour < 12 ? "AM" : "PM";
                if (c == 'a') ap = d.Hour < 12 ? "am" : "pm";
                out += ap;
                i += 2;
                continue;
            }
            out.append(n, c);
            break;
        case 't':
            // A time zone: the meter's clock has none. Drop a blank before it too.
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            break;
        default:
            out.append(n, c);
            break;
        }
        i += n;
    }
    return out;
}

double TimeTickStep(double spanSeconds, int widthPx, int minLabelPx) {
    static const double kSteps[] = {1,     2,     5,      10,     15,      30,     60,    120,
                                    300,   600,   900,    1800,   3600,    7200,   10800, 21600,
                                    43200, 86400, 172800, 604800, 1209600, 2419200};
    if (!(spanSeconds > 0) || !Finite(spanSeconds)) return 1;
    const int labels = std::max(1, std::max(widthPx, 1) / std::max(minLabelPx, 1));
    const double want = spanSeconds / labels;
    for (double s : kSteps)
        if (s >= want) return s;
    const double month = 2419200;
    return month * NiceCeil(want / month);
}

std::vector<TTrendTimeTick> TimeTicks(const TTrendTimeRange& r, int widthPx, int minLabelPx,
                                      const TTrendTimeFormat& f) {
    std::vector<TTrendTimeTick> ticks;
    if (!Finite(r.From) || !Finite(r.To) || !(r.To > r.From)) return ticks;
    const double step = TimeTickStep(r.Span() * kmonSecondsPerDay, widthPx, minLabelPx);
    const double from = r.From * kmonSecondsPerDay, to = r.To * kmonSecondsPerDay;
    const std::string& timeFmt = step < 60 ? f.LongTime : f.ShortTime;
    std::string lastDate;
    // Bounded by the width: the step keeps labels minLabelPx apart.
    for (double k = std::ceil(from / step - 1e-9); k * step <= to + 1e-6 && ticks.size() < 4096;
         k += 1) {
        TTrendTimeTick t;
        t.Time = k * step / kmonSecondsPerDay;
        const std::string date = FormatDateTimePattern(t.Time, f.Date, &f);
        if (step >= kmonSecondsPerDay) {
            t.Label = date;
        } else {
            t.Label = FormatDateTimePattern(t.Time, timeFmt, &f);
            if (date != lastDate) t.DateLabel = date;
        }
        lastDate = date;
        ticks.push_back(std::move(t));
    }
    return ticks;
}

// --- value axes ---

TTrendValueAxis NiceValueAxis(double lo, double hi, int heightPx, int minTickPx) {
    TTrendValueAxis a;
    if (!Finite(lo) || !Finite(hi) || lo > hi) lo = 0, hi = 1;
    if (hi - lo <= std::max(std::fabs(hi), std::fabs(lo)) * 1e-6) {
        const double open = std::max(std::fabs(hi) * 0.01, 0.001);
        lo -= open;
        hi += open;
    }
    const double big = std::max(std::fabs(lo), std::fabs(hi));
    if (big >= 1e6) {
        a.Scale = 1e-6;
        a.Prefix = "М";
    } else if (big >= 1e4) {
        a.Scale = 1e-3;
        a.Prefix = "к";
    }
    const int ticks = std::max(2, std::max(heightPx, 1) / std::max(minTickPx, 1));
    a.Step = NiceCeil((hi - lo) / ticks);
    a.Lo = std::floor(lo / a.Step + 1e-9) * a.Step;
    a.Hi = std::ceil(hi / a.Step - 1e-9) * a.Step;
    if (a.Hi <= a.Lo) a.Hi = a.Lo + a.Step;
    const double shown = a.Step * a.Scale;
    a.Decimals = std::max(0, int(-std::floor(std::log10(shown) + 1e-9)));
    return a;
}

std::vector<double> ValueTicks(const TTrendValueAxis& a) {
    std::vector<double> v;
    if (!(a.Step > 0)) return v;
    const long first = std::lround(a.Lo / a.Step), last = std::lround(a.Hi / a.Step);
    for (long k = first; k <= last && v.size() < 1000; ++k)
        v.push_back(double(k) * a.Step);
    return v;
}

std::string ValueLabel(double v, const TTrendValueAxis& a, char decimalSeparator) {
    return FormatFixed(v * a.Scale, a.Decimals, decimalSeparator);
}

// --- mapping ---

double TimeToX(TDateTime t, const TTrendTimeRange& r, int left, int width) {
    const double span = r.Span();
    if (!(span > 0)) return left;
    return left + (t - r.From) / span * width;
}

TDateTime XToTime(double x, const TTrendTimeRange& r, int left, int width) {
    if (width <= 0) return r.From;
    return r.From + (x - left) / width * r.Span();
}

int ValueToY(double v, double lo, double hi, int top, int height) {
    if (!(hi > lo) || !Finite(v)) return top + height / 2;
    const double y = top + (hi - v) / (hi - lo) * height;
    const double lim = double(std::max(height, 1));
    return int(std::lround(std::clamp(y, top - lim, top + height + lim)));
}

// --- gaps ---

std::vector<TTrendBand> OutageBands(const std::vector<TTrendOutage>& outages,
                                    const TTrendSample* samples, size_t n) {
    std::vector<TTrendBand> bands;
    if (n == 0) return bands;
    for (size_t i = 0; i < outages.size(); ++i) {
        const TTrendOutage& o = outages[i];
        const bool ended = o.Ended != 0;
        const double length = ended ? std::max(0.0, o.Ended - o.Began) : 0.0;
        TTrendBand b;
        b.Index = i;
        if (o.LastMeterTime != 0) {
            b.From = o.LastMeterTime;
            const TTrendSample* next = UpperBound(samples, n, o.LastMeterTime);
            if (next != samples + n)
                b.To = next->Time;
            else
                b.To = ended ? b.From + length : std::numeric_limits<double>::infinity();
        } else {
            // Before the first record: the meter's clock is known only from that record on.
            if (!ended) continue;
            b.To = samples[0].Time;
            b.From = b.To - length;
        }
        if (b.To > b.From) bands.push_back(b);
    }
    std::stable_sort(bands.begin(), bands.end(),
                     [](const TTrendBand& a, const TTrendBand& b) { return a.From < b.From; });
    return bands;
}

const TTrendBand* BandAt(const std::vector<TTrendBand>& bands, TDateTime t) {
    auto it = std::lower_bound(bands.begin(), bands.end(), t,
                               [](const TTrendBand& b, TDateTime x) { return b.From < x; });
    if (it == bands.begin()) return nullptr;
    --it;
    return t < it->To ? &*it : nullptr;
}

bool TTrendGaps::Breaks(TDateTime a, TDateTime b) const {
    if (b - a > MaxStep) return true;
    // The last band that begins before b lies between a and b when it ends after a.
    auto it = std::lower_bound(Bands.begin(), Bands.end(), b,
                               [](const TTrendBand& x, TDateTime t) { return x.From < t; });
    return it != Bands.begin() && std::prev(it)->To > a;
}

std::string OutageReadout(const TTrendOutage& o, const TTrendTimeFormat& f) {
    const auto dateTime = [&](TDateTime t) {
        return FormatDateTimePattern(t, f.Date, &f) + " " +
               FormatDateTimePattern(t, f.LongTime, &f);
    };
    std::string s = "Перерыв опроса с " + dateTime(o.Began);
    if (o.Ended == 0)
        s += " (время компьютера; конец не записан)";
    else
        s += " по " +
             (std::floor(o.Ended) == std::floor(o.Began)
                  ? FormatDateTimePattern(o.Ended, f.LongTime, &f)
                  : dateTime(o.Ended)) +
             " (время компьютера)";
    return o.Text.empty() ? s : s + ": " + o.Text;
}

// --- decimation ---

void DecimateSeriesSet(const TTrendSample* samples, size_t n, TTrendSeries* const* out,
                       size_t count, const TTrendTimeRange& r, int width, const TTrendGaps& gaps) {
    const size_t cols = size_t(std::max(width, 0));
    for (size_t k = 0; k < count; ++k) {
        out[k]->Before = out[k]->After = TTrendEdge();
        out[k]->Columns.assign(cols, TTrendColumn());
    }
    if (width <= 0 || n == 0 || !(r.Span() > 0)) return;
    // Only the quantities that exist take part.
    std::vector<TTrendSeries*> series;
    std::vector<int> qs;
    for (size_t k = 0; k < count; ++k)
        if (out[k]->Quantity >= 0 && out[k]->Quantity < kmonTrendQuantityCount) {
            series.push_back(out[k]);
            qs.push_back(out[k]->Quantity);
        } else {
            out[k]->Columns.clear();
        }
    const size_t m = series.size();
    if (m == 0) return;
    const TTrendSample* b = LowerBound(samples, n, r.From);
    const TTrendSample* e = UpperBound(b, size_t(samples + n - b), r.To);
    const double perDay = width / r.Span();
    // Per quantity: the last sample counted, to tell a join from a gap, and the first in view.
    std::vector<const TTrendSample*> prev(m, nullptr), firstIn(m, nullptr);
    std::vector<TTrendColumn*> col(m);
    for (size_t k = 0; k < m; ++k) {
        col[k] = series[k]->Columns.data();
        for (const TTrendSample* s = b; s > samples;) {
            --s;
            if (std::isfinite(s->Value[qs[k]])) {
                prev[k] = s;
                break;
            }
        }
        if (prev[k]) {
            series[k]->Before.Has = true;
            series[k]->Before.X = (prev[k]->Time - r.From) * perDay;
            series[k]->Before.Value = prev[k]->Value[qs[k]];
        }
    }
    const int lastCol = width - 1;
    // One pass over the samples in view for all quantities: a week of records is read once.
    for (const TTrendSample* s = b; s != e; ++s) {
        int c = int((s->Time - r.From) * perDay);
        c = c < 0 ? 0 : c > lastCol ? lastCol : c;
        for (size_t k = 0; k < m; ++k) {
            const float v = s->Value[qs[k]];
            if (!std::isfinite(v)) continue;
            TTrendColumn& cc = col[k][c];
            if (!cc.Has) {
                cc.Has = true;
                cc.Min = cc.Max = cc.First = v;
                cc.Joined = prev[k] && !gaps.Breaks(prev[k]->Time, s->Time);
                if (!firstIn[k]) firstIn[k] = s;
            } else {
                if (v < cc.Min) cc.Min = v;
                if (v > cc.Max) cc.Max = v;
            }
            cc.Last = v;
            prev[k] = s;
        }
    }
    for (size_t k = 0; k < m; ++k) {
        TTrendSeries& o = *series[k];
        const int q = qs[k];
        if (prev[k]) {
            // The first sample after the view, joined when it follows the last one closely.
            for (const TTrendSample* s = e; s != samples + n; ++s) {
                if (!std::isfinite(s->Value[q])) continue;
                if (!gaps.Breaks(prev[k]->Time, s->Time)) {
                    o.After.Has = true;
                    o.After.X = (s->Time - r.From) * perDay;
                    o.After.Value = s->Value[q];
                }
                break;
            }
        }
        // The sample before the view joins only when the first sample in view follows it.
        if (o.Before.Has) {
            const double beforeTime = r.From + o.Before.X / perDay;
            if (!firstIn[k] || gaps.Breaks(beforeTime, firstIn[k]->Time)) o.Before.Has = false;
        }
    }
}

void DecimateSeries(const TTrendSample* samples, size_t n, int q, const TTrendTimeRange& r,
                    int width, const TTrendGaps& gaps, TTrendSeries& out) {
    out.Quantity = q;
    TTrendSeries* one = &out;
    DecimateSeriesSet(samples, n, &one, 1, r, width, gaps);
}

bool SeriesExtent(const std::vector<TTrendSeries>& series, double& lo, double& hi) {
    bool any = false;
    for (const auto& s : series)
        for (const auto& c : s.Columns) {
            if (!c.Has) continue;
            if (!any || c.Min < lo) lo = c.Min;
            if (!any || c.Max > hi) hi = c.Max;
            any = true;
        }
    return any;
}

// --- zoom and pan ---

TTrendTimeRange WholeRange(const TTrendViewLimits& l) {
    const double minSpan = l.MinSpan > 0 ? l.MinSpan : kmonTrendMinSpanDays;
    if (!(l.Last - l.First >= minSpan)) return {l.First, l.First + minSpan};
    return {l.First, l.Last};
}

TTrendTimeRange ClampRange(const TTrendTimeRange& r, const TTrendViewLimits& l) {
    const TTrendTimeRange w = WholeRange(l);
    if (!Finite(r.From) || !Finite(r.To)) return w;
    double span = std::max(r.Span(), std::min(l.MinSpan, w.Span()));
    if (span >= w.Span()) return w;
    double from = std::clamp(r.From, w.From, w.To - span);
    return {from, from + span};
}

TTrendTimeRange ZoomAbout(const TTrendTimeRange& r, double factor, TDateTime anchor,
                          const TTrendViewLimits& l) {
    if (!(factor > 0) || !Finite(factor) || !(r.Span() > 0)) return ClampRange(r, l);
    const TTrendTimeRange w = WholeRange(l);
    const double span = std::clamp(r.Span() / factor, std::min(l.MinSpan, w.Span()), w.Span());
    if (!Finite(anchor)) anchor = (r.From + r.To) / 2;
    const double from = anchor - (anchor - r.From) * (span / r.Span());
    return ClampRange({from, from + span}, l);
}

TTrendTimeRange PanBy(const TTrendTimeRange& r, double deltaDays, const TTrendViewLimits& l) {
    if (!Finite(deltaDays)) return ClampRange(r, l);
    return ClampRange({r.From + deltaDays, r.To + deltaDays}, l);
}

bool IsWholeRange(const TTrendTimeRange& r, const TTrendViewLimits& l) {
    const TTrendTimeRange w = WholeRange(l);
    const double eps = 1e-3 / kmonSecondsPerDay;
    return std::fabs(r.From - w.From) < eps && std::fabs(r.To - w.To) < eps;
}

TTrendTimeRange FollowNewSamples(const TTrendTimeRange& r, TDateTime oldLast,
                                 const TTrendViewLimits& l) {
    TTrendViewLimits old = l;
    old.Last = oldLast;
    if (IsWholeRange(r, old)) return WholeRange(l);
    if (oldLast <= r.To && l.Last > r.To) {
        const double span = r.Span();
        return ClampRange({l.Last - span, l.Last}, l);
    }
    return ClampRange(r, l);
}

// --- readout ---

size_t NearestSample(const TTrendSample* samples, size_t n, TDateTime t) {
    if (n == 0 || !Finite(t)) return n;
    const TTrendSample* it = LowerBound(samples, n, t);
    if (it == samples) return 0;
    if (it == samples + n) return n - 1;
    const TTrendSample* before = it - 1;
    return size_t((t - before->Time <= it->Time - t ? before : it) - samples);
}

int ReadoutDecimals(int q) {
    if (q == tqF || q == tqCosSum) return 3;
    if (q >= tqIA && q <= tqIN) return 3;
    if (q >= tqPSum && q <= tqSSum) return 1;
    return 2;
}

std::string ReadoutValue(int q, float v, char decimalSeparator) {
    const TmonTrendQuantityInfo& info = TrendQuantityInfo(q);
    std::string s =
        std::string(info.Name) + " " + FormatFixed(v, ReadoutDecimals(q), decimalSeparator);
    if (*info.Unit) s += std::string(" ") + info.Unit;
    return s;
}

// --- span statistics ---

TTrendSpanStats TrendSpanStats(const std::vector<TTrendSample>& samples, TDateTime from,
                               TDateTime to, int quantity,
                               const std::vector<TmonTrendLimit>& limits) {
    TTrendSpanStats st;
    st.Min = st.Max = st.Mean = st.Upper95 = st.T1 = st.T2 = std::nan("");
    if (quantity < 0 || quantity >= kmonTrendQuantityCount) return st;
    const auto byTime = [](const TTrendSample& s, TDateTime t) { return s.Time < t; };
    auto it = std::lower_bound(samples.begin(), samples.end(), from, byTime);
    std::vector<double> v;
    for (; it != samples.end() && it->Time <= to; ++it)
        if (std::isfinite(it->Value[quantity])) v.push_back(it->Value[quantity]);
    st.N = v.size();
    if (v.empty()) return st;
    // The band of one colour's lines, and the share outside it.
    const auto outsideShare = [&](TmonColor colour) {
        double lo = INFINITY, hi = -INFINITY;
        int lines = 0;
        for (const TmonTrendLimit& l : limits)
            if (l.Color == colour) {
                lo = std::min(lo, l.Value);
                hi = std::max(hi, l.Value);
                ++lines;
            }
        if (lines == 0) return std::nan("");
        if (lines == 1) lo = -INFINITY;
        size_t out = 0;
        for (double x : v)
            out += x > hi + 1e-6 || x < lo - 1e-6;
        return 100.0 * double(out) / double(v.size());
    };
    st.T1 = outsideShare(mclBlue);
    st.T2 = outsideShare(mclRed);
    double sum = 0;
    for (double x : v)
        sum += x;
    st.Mean = sum / double(v.size());
    const size_t rank = std::max<size_t>(1, (v.size() * 95 + 99) / 100);
    std::nth_element(v.begin(), v.begin() + long(rank - 1), v.end());
    st.Upper95 = v[rank - 1];
    const auto mm = std::minmax_element(v.begin(), v.end());
    st.Min = *mm.first;
    st.Max = *mm.second;
    return st;
}

std::string SpanStatsText(int q, const TTrendSpanStats& s, char sep) {
    const TmonTrendQuantityInfo& info = TrendQuantityInfo(q);
    std::string r = std::string(info.Name) + ": N " + std::to_string(s.N);
    if (s.N == 0) return r;
    const int d = ReadoutDecimals(q);
    const std::string unit = *info.Unit ? std::string(" ") + info.Unit : std::string();
    r += ", мин " + FormatFixed(s.Min, d, sep) + ", макс " + FormatFixed(s.Max, d, sep) + ", ср. " +
         FormatFixed(s.Mean, d, sep) + ", 95 % " + FormatFixed(s.Upper95, d, sep) + unit;
    if (std::isfinite(s.T1)) r += ", T1 " + FormatFixed(s.T1, 1, sep) + " %";
    if (std::isfinite(s.T2)) r += ", T2 " + FormatFixed(s.T2, 1, sep) + " %";
    return r;
}

std::string CursorDeltaText(const TTrendSample& fixed, const TTrendSample& pointer,
                            const std::vector<int>& quantities, char sep) {
    int64_t seconds = std::llround((pointer.Time - fixed.Time) * 86400.0);
    const char* sign = seconds < 0 ? "-" : "";
    seconds = std::llabs(seconds);
    char t[48];
    std::snprintf(t, sizeof t, "%s%02lld:%02lld:%02lld", sign,
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
    std::string r = std::string("Δt ") + t;
    const char* between = ": ";
    for (int q : quantities) {
        if (q < 0 || q >= kmonTrendQuantityCount) continue;
        const TmonTrendQuantityInfo& info = TrendQuantityInfo(q);
        r +=
            between + std::string("Δ") + info.Name + " " +
            FormatFixed(double(pointer.Value[q]) - double(fixed.Value[q]), ReadoutDecimals(q), sep);
        if (*info.Unit) r += std::string(" ") + info.Unit;
        between = ", ";
    }
    return r;
}

// --- the plot model ---

std::vector<std::vector<int>> PaneQuantities(const std::vector<int>& checked) {
    std::vector<std::vector<int>> panes;
    std::vector<std::string> units;
    for (int q : checked) {
        if (q < 0 || q >= kmonTrendQuantityCount) continue;
        const std::string unit = TrendQuantityInfo(q).Unit;
        auto it = std::find(units.begin(), units.end(), unit);
        if (it == units.end()) {
            units.push_back(unit);
            panes.push_back({q});
        } else if (std::find(panes[size_t(it - units.begin())].begin(),
                             panes[size_t(it - units.begin())].end(),
                             q) == panes[size_t(it - units.begin())].end()) {
            panes[size_t(it - units.begin())].push_back(q);
        }
    }
    return panes;
}

TTrendPlotModel BuildPlotModel(const std::vector<TTrendSample>& samples,
                               const std::vector<int>& checked, const TmonSettings& settings,
                               const TTrendTimeRange& range, const TTrendPlotLayout& layout,
                               const TTrendTimeFormat& fmt, const TTrendGaps& gaps) {
    TTrendPlotModel m;
    m.Range = range;
    m.Layout = layout;
    const int w = std::max(0, layout.PlotWidth());
    const int h = std::max(0, layout.PlotHeight());
    m.Ticks = TimeTicks(range, w, layout.MinLabelPx, fmt);
    for (const TTrendBand& b : gaps.Bands)
        if (b.To > range.From && b.From < range.To) m.Bands.push_back(b);
    const auto groups = PaneQuantities(checked);
    if (groups.empty()) return m;
    const int n = int(groups.size());
    const int paneH = std::max(1, (h - layout.PaneGap * (n - 1)) / n);
    for (int i = 0; i < n; ++i) {
        TTrendPane p;
        p.Unit = TrendQuantityInfo(groups[size_t(i)][0]).Unit;
        p.Top = layout.Top + i * (paneH + layout.PaneGap);
        p.Height = paneH;
        for (int q : groups[size_t(i)]) {
            p.Series.emplace_back();
            p.Series.back().Quantity = q;
            for (const TmonTrendLimit& lim : TrendLimitsOf(q, settings))
                if (std::find_if(p.Limits.begin(), p.Limits.end(), [&](const TmonTrendLimit& x) {
                        return x.Value == lim.Value && x.Color == lim.Color;
                    }) == p.Limits.end())
                    p.Limits.push_back(lim);
        }
        m.Panes.push_back(std::move(p));
    }
    std::vector<TTrendSeries*> all;
    for (TTrendPane& p : m.Panes)
        for (TTrendSeries& s : p.Series)
            all.push_back(&s);
    DecimateSeriesSet(samples.data(), samples.size(), all.data(), all.size(), range, w, gaps);
    for (TTrendPane& p : m.Panes) {
        double lo = 0, hi = 0;
        bool any = SeriesExtent(p.Series, lo, hi);
        for (const TmonTrendLimit& lim : p.Limits) {
            if (lim.Color != mclBlue) continue;
            lo = any ? std::min(lo, lim.Value) : lim.Value;
            hi = any ? std::max(hi, lim.Value) : lim.Value;
            any = true;
        }
        if (!any) lo = 0, hi = 1;
        p.Axis = NiceValueAxis(lo, hi, paneH, layout.MinValueTickPx);
    }
    return m;
}

} // namespace qz
