#pragma once
// Resource ids, shared by the resource script and the code.

#define IDI_VARNHOLT_LARGE 107
#define IDI_VARNHOLT_SMALL 108
