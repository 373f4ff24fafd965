// Interface identifiers that the compiler's uuid library lacks (see include/taskschd.h).
#include <windows.h>
#include <taskschd.h>

#ifdef TQ_DEFINE_IID_IBOOTTRIGGER
EXTERN_C const IID IID_IBootTrigger = {
    0x2a9c35da, 0xd357, 0x41f4, {0xbb, 0xc1, 0x20, 0x7a, 0xc1, 0xb1, 0xf3, 0xcb}};
#endif
