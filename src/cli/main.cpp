// PLACEHOLDER: replaced by the headless front end.
int main() { return 0; }
