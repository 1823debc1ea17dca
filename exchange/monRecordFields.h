// The fields of a decoded 3-second record in the order qzcli prints them, so that the JSON
// lines and the journal's CSV export carry the same quantities.
#pragma once

#include "exchange/monStorage.h"

namespace qz {

// Calls f(name, values, count) for every field: single values with count 1, grouped
// fields and harmonic tables with their length. `harmonics` false leaves out the 38
// harmonic tables.
template <class F> void ForEachRecordField(const TmonData3sec& d, bool harmonics, F&& f) {
    auto one = [&f](const char* name, double v) { f(name, &v, 1); };
#define QZ_VALUE(x) one(#x, double(d.x))
#define QZ_ARRAY(x) f(#x, d.x, int(sizeof(d.x) / sizeof(d.x[0])))
    QZ_VALUE(Time);
    QZ_VALUE(F);
    QZ_VALUE(dF);
    QZ_ARRAY(U1);
    QZ_ARRAY(I1);
    QZ_ARRAY(PhiUI);
    QZ_ARRAY(U);
    QZ_ARRAY(I);
    QZ_ARRAY(dU1);
    QZ_ARRAY(U1Line);
    QZ_ARRAY(USeq);
    QZ_ARRAY(ISeq);
    QZ_ARRAY(PhiUISeq);
    QZ_ARRAY(ULine);
    QZ_ARRAY(dU1Line);
    QZ_VALUE(K0);
    QZ_VALUE(K2);
    QZ_ARRAY(P);
    QZ_ARRAY(Q);
    QZ_ARRAY(S);
    QZ_ARRAY(CosPhi);
    QZ_ARRAY(P1);
    QZ_ARRAY(Q1);
    QZ_ARRAY(S1);
    QZ_ARRAY(CosPhi1);
    QZ_ARRAY(KU);
    QZ_VALUE(KI_A);
    QZ_VALUE(KI_B);
    QZ_VALUE(KI_C);
    QZ_VALUE(KI_N);
    QZ_VALUE(KU_AB);
    QZ_VALUE(KU_BC);
    QZ_VALUE(KU_CA);
    if (!harmonics) return;
    QZ_ARRAY(KUn_A);
    QZ_ARRAY(KUn_B);
    QZ_ARRAY(KUn_C);
    QZ_ARRAY(KUn_N);
    QZ_ARRAY(KIn_A);
    QZ_ARRAY(KIn_B);
    QZ_ARRAY(KIn_C);
    QZ_ARRAY(KIn_N);
    QZ_ARRAY(KUn_AB);
    QZ_ARRAY(KUn_BC);
    QZ_ARRAY(KUn_CA);
    QZ_ARRAY(Un_A);
    QZ_ARRAY(Un_B);
    QZ_ARRAY(Un_C);
    QZ_ARRAY(Un_N);
    QZ_ARRAY(In_A);
    QZ_ARRAY(In_B);
    QZ_ARRAY(In_C);
    QZ_ARRAY(In_N);
    QZ_ARRAY(Un_AB);
    QZ_ARRAY(Un_BC);
    QZ_ARRAY(Un_CA);
    QZ_ARRAY(PhiUn_A);
    QZ_ARRAY(PhiUn_B);
    QZ_ARRAY(PhiUn_C);
    QZ_ARRAY(PhiUn_N);
    QZ_ARRAY(PhiIn_A);
    QZ_ARRAY(PhiIn_B);
    QZ_ARRAY(PhiIn_C);
    QZ_ARRAY(PhiIn_N);
    QZ_ARRAY(PhiUIn_A);
    QZ_ARRAY(PhiUIn_B);
    QZ_ARRAY(PhiUIn_C);
    QZ_ARRAY(PhiUIn_N);
    QZ_ARRAY(Pn_A);
    QZ_ARRAY(Pn_B);
    QZ_ARRAY(Pn_C);
    QZ_ARRAY(Pn_N);
#undef QZ_VALUE
#undef QZ_ARRAY
}

} // namespace qz
