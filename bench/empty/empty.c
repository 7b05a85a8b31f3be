/* Starts and ends: what Wine costs before a program does anything. */
int main(void) { return 0; }
