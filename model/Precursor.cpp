#include "model/Precursor.h"

CPrecursor::~CPrecursor() = default;
