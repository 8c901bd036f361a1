ALTER TABLE packages ADD COLUMN installed_at TEXT;
