// The Windows operations the component calls, as this layer provides them on a POSIX system.
#ifndef TELVARIO_PLATFORM_WINDOWS_API_H
#define TELVARIO_PLATFORM_WINDOWS_API_H

#include "windows_types.h"
#include "com.h"
#include "connection_points.h"
#include "automation.h"
#include "icmp.h"
#include "kernel.h"
#include "module_resources.h"
#include "module_entry.h"
#include "oleaut.h"
#include "registry.h"
#include "user.h"
#include "wininet.h"
#include "winsock.h"

#endif
