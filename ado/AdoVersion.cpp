// Marks the library's version; the access layer's units sit beside this file.
namespace ado { const char* LibraryVersion() { return "0.1"; } }
