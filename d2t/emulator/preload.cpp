// Placeholder until the interposer lands.
