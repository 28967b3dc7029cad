#include "sync.hpp"
