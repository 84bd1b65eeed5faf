// Default AddressSanitizer options of the test programs in the sanitizer
// lane: an allocation that cannot be satisfied returns null, as malloc does
// outside the sanitizer, so that the heap's failure paths can be tested.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
