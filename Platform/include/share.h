// Sharing flags of the C run-time's _wfsopen (declared in pal/files.h).
#pragma once

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40
#define _SH_SECURE 0x80
