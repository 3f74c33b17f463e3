/* One exported function, linked into small libraries with a missing or a
 * foreign version node: the export check must reject both. */
__attribute__((visibility("default"))) int DPXUTVersionProbe(void) { return 0; }
