// Placeholder entry point; the real main flow lives in app/.
int main() { return 0; }
