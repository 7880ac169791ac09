// Marks the library's version; the conversion run's units sit beside this file.
namespace mrv { const char* ConverterVersion() { return "0.1"; } }
