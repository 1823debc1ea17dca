// Arbitrary bytes as meter answers: every command takes them as its held answer and every
// accessor reads them; the simulator's request framer takes them as a line stream.
#include "protocol/KavrenCommand.h"
#include "protocol/QZ2Commands.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

volatile double gSink;

void Use(double v) {
    gSink = v;
}

void Probe(qz::TQZ2_CustomCmd& cmd, const uint8_t* data, size_t size) {
    cmd.SetAnswer(data, size);
    Use(cmd.CheckAnswer());
    Use(cmd.CheckAnswerHeader(data, size));
    Use(cmd.GetDeviceStatus());
    Use(cmd.AnswerDataLength());
    Use(cmd.AnswerDataSize());
    Use(cmd.RecordTime());
    Use(qz::KavrenFrameCheckOk(data, size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > qz::kMaxFrameSize) return 0;

    qz::TQZ2_SettingsCmd settings(4, 1);
    Probe(settings, data, size);
    Use(settings.NominalPhaseVoltage() + settings.NominalLineVoltage() + settings.CurrentCode() +
        settings.InputConfig() + settings.KUMax());
    for (int i = 0; i < 4; ++i)
        Use(settings.PhaseVoltageLimit(i) + settings.FrequencyLimit(i));
    for (int n = 2; n <= 40; ++n)
        Use(settings.HarmNormal(n) + settings.HarmMax(n));

    qz::TQZ2_ScaleKoeffsCmd scale(4, 1);
    Probe(scale, data, size);
    Use(scale.VoltageKoeff() + scale.CurrentKoeff());

    qz::TQZ2_TimeParamsCmd time(4, 1);
    Probe(time, data, size);
    Use(time.DeviceTime() + time.ChangeTime() + time.ChangeFlag());

    qz::TQZ2M_Archive3secCmd archive(4, 1);
    Probe(archive, data, size);
    const qz::TQZ2Record3sec r = archive.Record();
    for (int ph = 0; ph < 4; ++ph)
        Use(r.PhaseU1(ph) + r.PhaseU(ph) + r.PhaseUAngle(ph) + r.PhaseI1(ph) + r.PhaseI(ph) +
            r.PhaseIAngle(ph) + r.KURaw(ph) + r.KIRaw(ph) + r.PowerFund(ph) + r.PowerTotal(ph));
    for (int k = 0; k < 3; ++k)
        Use(r.LineU1(k) + r.LineU(k) + r.USeq(k) + r.USeqAngle(k) + r.ISeq(k) + r.KULineRaw(k));
    for (int t = 0; t < qz::qz2::kHarmTableCount; ++t)
        for (int n = 0; n <= 41; ++n)
            Use(r.Harmonic(static_cast<qz::qz2::THarmTable>(t), n).Re);

    const uint8_t mask = size ? data[0] : 0xFF;
    const uint8_t code = size > 1 ? data[1] % 7 : 2;
    qz::TQZ2_SignalTrendCmd signal(4, 1, mask, code);
    Probe(signal, data, size);
    for (int i = 0; i <= signal.SamplesPerChannel(); ++i)
        for (int s = 0; s <= signal.ChannelCount(); ++s)
            Use(signal.Sample(i, s));
    return 0;
}
