// The worker while a line connects, on the real clock.
#include "IntegrationSupport.h"
