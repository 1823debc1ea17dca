#include "sigcalc/sigcalc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace qz {

namespace {

// The first `maxChars` characters of a UTF-8 text, never cutting a character in two.
std::string CutUtf8(const char* text, size_t maxChars) {
    if (!text) return std::string();
    std::string s(text);
    size_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue; // continuation byte
        if (chars == maxChars) return s.substr(0, i);
        ++chars;
    }
    return s;
}

uint32_t LongestChannel(const TSigExperiment& exp) {
    uint32_t n = 0;
    for (const TSigChannel* c : exp.Channels)
        n = std::max(n, c->SampleCount());
    return n;
}

} // namespace

TSigExperiment::~TSigExperiment() {
    for (TSigChannel* c : Channels)
        delete c;
}

const TSigChannel* TSigExperiment::FindChannel(int32_t number) const {
    for (const TSigChannel* c : Channels)
        if (c->Number == number) return c;
    return nullptr;
}

int ExpCreate(TSigExperiment** exp, const char* name, int /*mode*/) {
    if (!exp) return sigBadArgument;
    TSigExperiment* e = new (std::nothrow) TSigExperiment;
    if (!e) return sigNoMemory;
    e->Caption = CutUtf8(name, kSigNameMaxChars);
    *exp = e;
    return sigOk;
}

TSigChannel* ExpAddChanel(TSigExperiment* exp, int, int, const char* name, int, const char* group,
                          int, int32_t number, uint32_t colour) {
    if (!exp) return nullptr;
    try {
        auto c = std::make_unique<TSigChannel>();
        c->Owner = exp;
        c->Name = CutUtf8(name, kSigNameMaxChars);
        c->Group = CutUtf8(group, kSigNameMaxChars);
        c->Number = number;
        c->Colour = colour;
        exp->Channels.push_back(c.get());
        return c.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

uint32_t ExpGetQuantCount(TSigExperiment* exp) {
    if (!exp) return 0;
    exp->QuantCount = LongestChannel(*exp);
    return exp->QuantCount;
}

int ChanelClear(TSigChannel* channel) {
    if (!channel) return sigBadArgument;
    channel->Samples.clear();
    channel->NodeFlags.clear();
    channel->Labels.clear();
    if (channel->Owner) channel->Owner->QuantCount = LongestChannel(*channel->Owner);
    return sigOk;
}

int ChanelSett(TSigChannel* channel, uint32_t index, int32_t value, uint8_t node) {
    if (!channel) return sigBadArgument;
    if (index >= kSigMaxSamples) return sigBadIndex;
    try {
        if (index >= channel->Samples.size()) {
            channel->Samples.resize(size_t(index) + 1, kSigZero);
            channel->NodeFlags.resize(size_t(index) + 1, 0);
        }
    } catch (const std::bad_alloc&) {
        return sigNoMemory;
    }
    channel->Samples[index] = static_cast<uint16_t>(std::clamp<int32_t>(value, 0, 65535));
    channel->NodeFlags[index] = node;
    if (channel->Owner && channel->Owner->QuantCount < channel->SampleCount())
        channel->Owner->QuantCount = channel->SampleCount();
    return sigOk;
}

int ChanelSetLabel(TSigChannel* channel, uint32_t index, const char* label) {
    if (!channel || !label) return sigBadArgument;
    if (index >= kSigMaxSamples) return sigBadIndex;
    try {
        if (index >= channel->Labels.size()) channel->Labels.resize(size_t(index) + 1);
        size_t n = strnlen(label, kSigLabelBufferSize);
        if (n == kSigLabelBufferSize) { // too long: cut, but not inside a character
            n = kSigLabelBufferSize - 1;
            while (n > 0 && (static_cast<unsigned char>(label[n]) & 0xC0) == 0x80)
                --n;
        }
        channel->Labels[index].assign(label, n);
    } catch (const std::bad_alloc&) {
        return sigNoMemory;
    }
    return sigOk;
}

uint16_t ChanelGet(const TSigChannel* channel, uint32_t index, char* text, size_t textSize,
                   uint8_t* flag) {
    if (text && textSize > 0) text[0] = '\0';
    if (flag) *flag = 0;
    if (!channel || index >= channel->Samples.size()) return kSigZero;
    if (flag) *flag = channel->NodeFlags[index];
    if (text && textSize > 0 && index < channel->Labels.size()) {
        const std::string& l = channel->Labels[index];
        size_t n = std::min(l.size(), textSize - 1);
        std::memcpy(text, l.data(), n);
        text[n] = '\0';
    }
    return channel->Samples[index];
}

int ExpDestroy(TSigExperiment** exp) {
    if (!exp) return sigBadArgument;
    delete *exp;
    *exp = nullptr;
    return sigOk;
}

} // namespace qz
