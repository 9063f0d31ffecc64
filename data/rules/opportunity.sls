*make money*
*making money*
*earn money*
*earn extra*
*extra income*
*extra cash*
*additional income*
*residual income*
*financial freedom*
*work from home*
*work at home*
*working from home*
*home based business*
*home-based business*
*be your own boss*
*no experience*
*no selling*
*network marketing*
*multi-level*
*multilevel*
*downline*
*per week*
*per month*
*a month from home*
*part time*
*full time income*
*get paid*
*your own business*
*business opportunity*
*no investment*
*cash flow*
*millions of dollars*
