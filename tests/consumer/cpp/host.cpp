// The C host, compiled as C++: the header's declarations must link from C++.
#include "../../abi/header_c99_test.c"
