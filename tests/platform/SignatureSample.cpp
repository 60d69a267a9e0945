// A small program that the signature tests sign with throw-away certificates at build time.
int main() { return 0; }
