// applying texts to the windows
