// Placeholder until the table store lands.
