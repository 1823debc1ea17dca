// Helpers for the settings tests: a private temporary folder and environment variables that
// are put back afterwards, so no test touches the real home folder.
#pragma once

#include "tests/support/EnvGuard.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
