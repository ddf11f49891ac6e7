// A digest library that reaches up into the checksum operations.
#include "checksum/digest_library.h"
#include "platform/result.h"
