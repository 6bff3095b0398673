#pragma once
// The service's code names the common event through this header.
#include "common/Evento.h"
