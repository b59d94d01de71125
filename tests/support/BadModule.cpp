// A tiny module with one fault that cmake/check-module-symbols.sh must refuse,
// chosen by a definition: QUILL_LEAKS_A_CLASS, QUILL_NEEDS_A_FOREIGN_SYMBOL,
// QUILL_MANGLES_THE_ENTRY, QUILL_NEEDS_A_NEWER_RUNTIME, QUILL_HAS_A_RUNPATH (given
// at the link) or QUILL_NEEDS_AN_UNLISTED_HOST_SYMBOL. Built with hidden
// visibility, like the real module.

#if defined(QUILL_MANGLES_THE_ENTRY)
__attribute__((visibility("default"))) int get_providers() { return 0; }
#else
extern "C" __attribute__((visibility("default"))) int get_providers() { return 0; }
#endif

#if defined(QUILL_LEAKS_A_CLASS)
// A driver class whose visibility was switched on by mistake.
class __attribute__((visibility("default"))) QuillmarUPS {
public:
    virtual ~QuillmarUPS();
    virtual int process(unsigned char* data, unsigned int len);
};

QuillmarUPS::~QuillmarUPS() {}

int QuillmarUPS::process(unsigned char*, unsigned int len) { return len > 0 ? 1 : 0; }
#endif

#if defined(QUILL_NEEDS_A_FOREIGN_SYMBOL)
// Defined by no host: the controller process could not load this module.
int OpenSerialPort(const char* device);

int OpenPort() { return OpenSerialPort("ttyS1"); }
#endif

#if defined(QUILL_NEEDS_A_NEWER_RUNTIME)
#include <unistd.h>

// closefrom came with GLIBC_2.34, newer than the board's C library.
void CloseInherited() { closefrom(3); }
#endif

#if defined(QUILL_NEEDS_AN_UNLISTED_HOST_SYMBOL)
// A host operation that abi/host-symbols.txt does not ask the controller for.
class SMDSPDevice {
public:
    int Step() const;
};

int StepOf(const SMDSPDevice& device) { return device.Step(); }
#endif
