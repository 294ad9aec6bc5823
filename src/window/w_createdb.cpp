// PLACEHOLDER: replaced by the Qt window.
#include "window/w_createdb.h"
