// Placeholder until the module's exports land.
