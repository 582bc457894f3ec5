// Kept apart so that pointing the program at another quote service rebuilds only this file.
#include "app/Unit1.h"

#ifndef TAVLIN_QUOTE_HOST
#error "TAVLIN_QUOTE_HOST must be defined"
#endif

AnsiString QuoteServiceHost = TAVLIN_QUOTE_HOST;
