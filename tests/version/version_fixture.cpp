// Carries the version resource of version_fixture.rc; does nothing.
int main() { return 0; }
