// Placeholder until the sync connector lands.
