/* The library used from a C program linked against it: the header must compile as C, and
 * its declarations must match what the library exports. */
#include "chanparam/chanparam.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

int main(void) {
    TParamRecord* head = CreateDeviceParamArray();
    CHECK(head != NULL);
    if (head == NULL) return 1;

    TParamRecord* rate = AddParam(head, "Rate", "Скорость обмена", 5);
    CHECK(rate != NULL && rate->Index == 4);
    uint32_t value = 115200, read = 0;
    CHECK(SetParamValue(rate, &value) == 0);
    CHECK(GetParamValue(rate, &read) == 0 && read == 115200);

    char text[CHANPARAM_TEXT_SIZE];
    CHECK(SetParamValue(FindParam(head, "DLL"), "libqz.so") == 0);
    CHECK(GetParamValue(FindParam(head, "DLL"), text) == 0 && strcmp(text, "libqz.so") == 0);

    TChanelRecord* first = AddChanel(head, 10);
    TChanelRecord* second = AddChanel(head, 20);
    CHECK(first != NULL && second != NULL && first->Next == second);
    CHECK(FindChanel(head, 20) == second);
    CHECK(DeleteChanelArray(head) == 0);
    CHECK(FindChanel(head, 20) == NULL);
    CHECK(DeleteParamArray(head) == 0);

    if (failures == 0) printf("chanparam from C: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
