#include "net/IdDNSResolver.h"
