// Placeholder until the display inventory lands.
