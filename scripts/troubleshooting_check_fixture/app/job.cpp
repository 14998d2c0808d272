// A source for the troubleshooting check's own test: one message the page
// explains with a placeholder, one it leaves out, and a closing line.
constexpr char kAllDone[] = "Complete: the fixture's closing line";
// The same name as a constant of unit/, with a text of its own.
constexpr char kGone[] = "The port has gone";

void Job(Runtime& rt, const std::string& path) {
  if (path.empty()) rt.FatalError("A message the page leaves out");
  rt.FatalError("Cannot open " + path + ": it is gone");
  if (path == "-") rt.FatalError(kGone);
  rt.PrintLastLine(kAllDone);
}
