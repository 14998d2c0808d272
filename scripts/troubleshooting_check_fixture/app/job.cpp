// A source for the troubleshooting check's own test: one message the page
// explains with a placeholder, one it leaves out, and a closing line.
constexpr char kAllDone[] = "Complete: the fixture's closing line";

void Job(Runtime& rt, const std::string& path) {
  if (path.empty()) rt.FatalError("A message the page leaves out");
  rt.FatalError("Cannot open " + path + ": it is gone");
  rt.PrintLastLine(kAllDone);
}
