// Placeholder until the table component lands.
int main() { return 0; }
