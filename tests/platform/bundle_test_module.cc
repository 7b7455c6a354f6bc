// A tiny loadable module for the bundle tests: bundle_test copies it into a
// fixture bundle's Contents/Linux to load it and look up this one function.
extern "C" __attribute__((visibility("default"))) int VantlowBundleTestAnswer(void) {
  return 42;
}
