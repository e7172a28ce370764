#include "SqlTestSupport.h"
