namespace mrvtool {
const char* ToolVersion() { return "0.1"; }
}  // namespace mrvtool
