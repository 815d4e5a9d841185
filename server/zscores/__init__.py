"""Zephrant score server: board storage, challenges and the HTTP front."""
