#pragma once
// The stop-signal helpers live in the common layer; kept here for the
// programs that include them from the database layer's folder.
#include "common/Sinais.h"
