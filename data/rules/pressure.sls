*act now*
*order now*
*order today*
*call now*
*call today*
*call toll free*
*call toll-free*
*don't delay*
*do not delay*
*limited time*
*while supplies last*
*risk free*
*risk-free*
*no obligation*
*100% guaranteed*
*100% satisfaction*
*100% free*
*100% natural*
*100% legal*
*money back guarantee*
*money-back guarantee*
*satisfaction guaranteed*
*dear friend*
*dear sir*
*once in a lifetime*
*you have been selected*
*you've been selected*
*as seen on*
*no credit check*
*pre-approved*
*lowest rates*
*apply now*
*absolutely free*
*free of charge*
*nothing to lose*
*no catch*
*what are you waiting for*
*do it today*
*don't miss out*
*this offer expires*
*offer expires*
*special promotion*
*for a limited*
*at no cost*
*no hidden*
*unbelievable*
*incredible*
*guaranteed*
*order form*
*click below*
*click here now*
*visit our web*
