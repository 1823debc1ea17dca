// The signal library: an experiment holding numbered channels of waveform samples.
//
// The main window creates the experiment with its channels when the waveform display is
// switched on, refills the samples on every waveform block; the waveform window and the CSV
// export read them. Everything runs on the window thread except the waveform thread's reads
// of the channel mask and the sample-count code, which are atomics for that reason.
//
// A sample is stored as an unsigned 16-bit value: the signed sample plus 32768, so 32768
// means zero.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qz {

struct TSigExperiment;

// Longest channel name and experiment caption, in characters.
constexpr size_t kSigNameMaxChars = 64;
// Size of the label buffer that ChanelGet fills (the label and its terminating zero).
constexpr size_t kSigLabelBufferSize = 101;
// Upper bound on the samples of one channel: a bad index must not make the library try to
// allocate gigabytes.
constexpr uint32_t kSigMaxSamples = 1u << 20;
// The stored value of a zero sample.
constexpr uint16_t kSigZero = 32768;
// Colour of the plot background that the window stores: the system window colour.
constexpr uint32_t kSigSystemWindowColour = 0xFF000005;

// Result codes of the functions that report one.
enum TSigResult : int {
    sigOk = 0,
    sigBadArgument = 1, // missing experiment, channel or pointer
    sigBadIndex = 2,    // a sample index at or beyond kSigMaxSamples
    sigNoMemory = 3,
};

struct TSigChannel {
    TSigExperiment* Owner = nullptr;
    std::string Name;  // UTF-8, at most kSigNameMaxChars characters
    std::string Group; // the group name given when the channel was added
    bool Mark = false; // a mark channel is drawn as labelled vertical marks
    uint32_t Colour = 0;
    int32_t Number = 0;          // the channel number given to ExpAddChanel
    double SamplesPerStep = 1.0; // samples per readout step
    std::vector<uint16_t> Samples;
    std::vector<uint8_t> NodeFlags;  // one per sample, non-zero = node to be marked
    std::vector<std::string> Labels; // labels of a mark channel's samples (may be shorter)

    // The number of stored samples; the channel is drawn only when it is non-zero.
    uint32_t SampleCount() const { return static_cast<uint32_t>(Samples.size()); }
};

struct TSigExperiment {
    // Number of samples: the longest channel, updated by ChanelSett, ChanelClear and
    // ExpGetQuantCount.
    uint32_t QuantCount = 0;
    // The channels in the order they were added; owned by the experiment.
    std::vector<TSigChannel*> Channels;
    uint32_t BackgroundColour = 0;
    std::string Caption; // shown after the scale in the window caption
    uint16_t Reserved359 = 0;
    // Read by the waveform thread before every request while the window may change them.
    std::atomic<uint8_t> ChannelMask{0};
    std::atomic<uint8_t> SizeCode{2}; // 1..5: 32, 64, 128, 256, 512 samples

    TSigExperiment() = default;
    TSigExperiment(const TSigExperiment&) = delete;
    TSigExperiment& operator=(const TSigExperiment&) = delete;
    ~TSigExperiment();

    uint16_t ChannelCount() const { return static_cast<uint16_t>(Channels.size()); }
    // The first channel whose number is `number`, or nullptr.
    const TSigChannel* FindChannel(int32_t number) const;
};

// Creates an empty experiment and stores it in *exp (an experiment already there is not
// freed: that is the caller's). The name becomes the caption. `mode` is not used.
int ExpCreate(TSigExperiment** exp, const char* name, int mode);

// Appends a channel; name, group, number and colour appear in its record. The arguments
// `reserved1`, `reserved2`, `kind` and `step` are accepted as the window passes them and not
// used. Returns the channel, or nullptr when `exp` is missing.
TSigChannel* ExpAddChanel(TSigExperiment* exp, int reserved1, int reserved2, const char* name,
                          int kind, const char* group, int step, int32_t number, uint32_t colour);

// The number of samples held: the longest channel. 0 for a missing experiment.
uint32_t ExpGetQuantCount(TSigExperiment* exp);

// Removes the channel's samples, node flags and labels.
int ChanelClear(TSigChannel* channel);

// Stores sample `index` (0-based). `value` is the signed sample plus 32768 and is clamped to
// 0..65535; samples skipped over read as zero (32768). `node` non-zero marks the sample as a
// node to be drawn.
int ChanelSett(TSigChannel* channel, uint32_t index, int32_t value, uint8_t node);

// The stored value of sample `index` (32768 when the channel or the sample is missing).
// `text` (when given, `textSize` bytes, normally kSigLabelBufferSize) receives the sample's
// label, cut to fit and zero-terminated; `flag` (when given) receives the node flag.
uint16_t ChanelGet(const TSigChannel* channel, uint32_t index, char* text, size_t textSize,
                   uint8_t* flag);

// Gives sample `index` of a mark channel its label (cut to kSigLabelBufferSize - 1 bytes,
// never inside a UTF-8 character).
int ChanelSetLabel(TSigChannel* channel, uint32_t index, const char* label);

// Frees the experiment and its channels and sets *exp to nullptr.
int ExpDestroy(TSigExperiment** exp);

} // namespace qz
