// Front door of the portfolio subsystem: the single-instrument engine.
#pragma once

#include "portfolio/engine.hpp"
