// Placeholder until the generator command lands.
int main() { return 0; }
