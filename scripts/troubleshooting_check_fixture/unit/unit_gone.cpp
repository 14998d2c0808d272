// Messages in another folder: a constant named as one of app/ is, and a
// text made by a function of this file.
constexpr char kGone[] = "The unit has gone";

static std::string Refusal(int code) { return "The unit refused: " + std::to_string(code); }

void Check(Runtime& rt, int code) {
  if (code == 0) rt.FatalError(kGone);
  rt.FatalError(Refusal(code));
}
