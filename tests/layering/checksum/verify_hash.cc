// An operation that uses the layers below it, as it may.
#include "digest/korvik_digest.h"
#include "platform/result.h"
