// The page's entry: everything starts from here once the document is parsed.
import { start } from './line.js';

start();
