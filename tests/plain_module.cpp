// A module with no type library of its own, for the tests of finding one beside a module.
extern "C" int PlainModuleAnswer() {
  return 42;
}
