sp_configure 'allow updates',1
RECONFIGURE WITH OVERRIDE