// PLACEHOLDER: replaced by the Qt entry point.
int main() { return 0; }
