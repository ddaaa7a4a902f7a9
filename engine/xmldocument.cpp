#include "xmldocument.h"
