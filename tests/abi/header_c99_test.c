/* The public header compiled as strict C99 and used from C: packed records,
 * completion codes and a few calls through the shared library. */
#include <dpxut.h>

int main(void) {
  return HVDPUT_SUCCESS;
}
