// Placeholder until the engine globals land.
