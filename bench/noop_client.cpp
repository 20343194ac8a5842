// The floor of the benchmark: a payment client that does nothing.
int main() { return 0; }
